// The benchmark's reader: every block passes unchecked, to measure what
// reading costs without the check. CMake builds it into
// vorlax-read-unchecked in place of reader_check.cpp.
#include "reader_thread/reader_thread.h"

bool check_read_block(FileHandle, unsigned char*, const ReaderLayout&, int64_t, ReaderReport*) { return true; }
