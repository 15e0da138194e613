'use strict';
// Arguments are checked here, before any native call, with JavaScript's own errors: a value of
// the wrong kind is a TypeError, one outside what the call takes a RangeError. (Passed on, NaN
// would reach the C interface as 0 or INT_MIN, and 1.5 as 1.)

function integer(value, what) {
  if (!Number.isInteger(value)) throw new TypeError(`${what} must be an integer, not ${value}`);
  if (value < -0x80000000 || value > 0x7fffffff) throw new RangeError(`${what} must fit in 32 bits, not ${value}`);
  return value;
}

function finite(value, what) {
  if (typeof value !== 'number' || !Number.isFinite(value))
    throw new TypeError(`${what} must be a finite number, not ${value}`);
  return value;
}

function positive(value, what) {
  if (finite(value, what) <= 0) throw new RangeError(`${what} must be above 0, not ${value}`);
  return value;
}

module.exports = { integer, finite, positive };
