// Module loader: loading a system library and resolving a symbol, and failures reported with
// the loader's message rather than a crash.
#include "platform/Library.h"

#include <gtest/gtest.h>

namespace {

using namespace velmora::platform;

TEST(PlatformLibraryTest, LoadsLibraryAndResolvesSymbols) {
    std::string error;
    LibraryObject* library = LoadLibraryFile("libm.so.6", &error);
    ASSERT_NE(library, nullptr) << error;
    auto* cosine = reinterpret_cast<double (*)(double)>(FindLibrarySymbol(library, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(FindLibrarySymbol(library, "no_such_symbol_in_libm"), nullptr);
    FreeLibraryObject(library);
}

TEST(PlatformLibraryTest, FailuresAreReportedNotFatal) {
    std::string error;
    EXPECT_EQ(LoadLibraryFile("/nonexistent/libquillon-missing.so", &error), nullptr);
    EXPECT_NE(error.find("libquillon-missing.so"), std::string::npos) << "the loader's message names the file: " << error;
    EXPECT_EQ(LoadLibraryFile("/nonexistent/other.so", nullptr), nullptr) << "no error text wanted";
    EXPECT_EQ(FindLibrarySymbol(nullptr, "cos"), nullptr);
    FreeLibraryObject(nullptr);
}

}  // namespace
