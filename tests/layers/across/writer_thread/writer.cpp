// Workers of one layer may share headers; both may use the platform.
#include "reader_thread/reader.h"
#include "platform/platform.h"
#include "version.h"
#include <vector>
