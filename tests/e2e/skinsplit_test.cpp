#include <gtest/gtest.h>

#include "support/tools.h"
