// A driver header.
#include "settings/defaults.h"
