// AE de-banding and the flicker detectors. (Tests arrive with the operations.)
#include <gtest/gtest.h>

#include "ae_test_support.h"
