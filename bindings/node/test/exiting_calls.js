'use strict';
// A thread's calls of which one ends the thread: what a caller blocked in callSync then gets.
module.exports = () => ({ exit: () => process.exit(3) });
