// Compiled only by the layering checks: one header, named by the check, with the include path of
// the target under test. Whether this compiles tells whether that target can see the header.
#include TELVANE_PROBE_HEADER
