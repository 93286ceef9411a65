// A core file that reaches up into a driver: the check must refuse it.
#include "settings/defaults.h"
#include "main/driver.h"
