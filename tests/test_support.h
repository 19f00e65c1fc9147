// Helpers shared by the test groups: temporary folders, whole-file reads,
// and a platform table that counts and fails operations on demand.
#ifndef MELNO2QUAZ_TEST_SUPPORT_H
#define MELNO2QUAZ_TEST_SUPPORT_H
#endif
