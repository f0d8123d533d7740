/*
 * A host that declares the axis argument as a 32-bit int, as hosts written
 * against the old documentation do, and so may put anything into the upper
 * bytes of the argument slot.
 */
int MA(int axis, float target);
int MR(int axis, float distance);
int SV(int axis, float speed);
int ST(int axis);
int DH(int axis);
int GH(int axis);
float TP(int axis);
int MT(int axis);
int WS(int axis);
int RT(int axis);

int IntPrototypeMA(int axis, float target) { return MA(axis, target); }
int IntPrototypeMR(int axis, float distance) { return MR(axis, distance); }
int IntPrototypeSV(int axis, float speed) { return SV(axis, speed); }
int IntPrototypeST(int axis) { return ST(axis); }
int IntPrototypeDH(int axis) { return DH(axis); }
int IntPrototypeGH(int axis) { return GH(axis); }
float IntPrototypeTP(int axis) { return TP(axis); }
int IntPrototypeMT(int axis) { return MT(axis); }
int IntPrototypeWS(int axis) { return WS(axis); }
int IntPrototypeRT(int axis) { return RT(axis); }
