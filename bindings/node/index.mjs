// The package as an ES module: the same objects as require() gives, as named exports.
import pkg from './index.js';

export const { fenwyr, tarvik, CameraError, hresultName, setLibraryDirectory } = pkg;
export default pkg;
