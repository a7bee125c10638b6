// Module frame (placeholder until it is built).
#include "dramforge_ops.h"
