// A folder the table does not hold.
#include "settings/settings.h"
