/*
 * A host that declares the axis argument as a 32-bit int, as hosts written
 * against the old documentation do, and so may put anything into the upper
 * bytes of the argument slot.
 */
int MA(int axis, float target);
int ST(int axis);
int GH(int axis);

int IntPrototypeMA(int axis, float target) {
  return MA(axis, target);
}
int IntPrototypeST(int axis) {
  return ST(axis);
}
int IntPrototypeGH(int axis) {
  return GH(axis);
}
