// AE exposure model and computation. (Tests arrive with the operations.)
#include <gtest/gtest.h>

#include "ae_test_support.h"
