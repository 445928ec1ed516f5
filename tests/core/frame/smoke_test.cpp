#include <gtest/gtest.h>

#include "frame/my_exception.h"

TEST(Smoke, Builds) { EXPECT_EQ(MakeFileLine(3, "/a/b/c.cpp").file, "c.cpp"); }
