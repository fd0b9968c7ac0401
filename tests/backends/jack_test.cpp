#include <gtest/gtest.h>
TEST(Jack, Placeholder) {}
