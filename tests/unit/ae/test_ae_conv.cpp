// AE convergence, smoothing, stabiliser, RGB-IR, HDR curve and day-night.
// (Tests arrive with the operations.)
#include <gtest/gtest.h>

#include "ae_test_support.h"
