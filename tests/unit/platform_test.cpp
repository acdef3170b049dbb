// Facts about the platform the Windows tests run on.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

namespace
{

// Every text of the program is code page 932. Under Wine that needs the
// Japanese locale; a wrong one would garble texts quietly, so fail loudly.
TEST(Platform, AnsiCodePageIs932)
{
    EXPECT_EQ(932u, GetACP());
}

} // namespace
#endif
