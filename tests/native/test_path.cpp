// The one joining rule for directories read from the registry.
#include "common/path.h"

#include <doctest.h>

TEST_CASE("JoinPath inserts a backslash only when the directory lacks one")
{
    CHECK(JoinPath("C:\\arcgis", "bin") == "C:\\arcgis\\bin");
    CHECK(JoinPath("C:\\arcgis\\", "bin") == "C:\\arcgis\\bin");
    CHECK(JoinPath("C:\\arcgis\\\\", "bin") == "C:\\arcgis\\\\bin"); // never removes one
    CHECK(JoinPath("C:\\arcgis/", "bin") == "C:\\arcgis/\\bin");     // only a backslash counts
    CHECK(JoinPath("", "bin") == "\\bin");
    CHECK(JoinPath("C:\\arcgis", "") == "C:\\arcgis\\");
    CHECK_FALSE(EndsWithBackslash(""));
    CHECK(EndsWithBackslash("\\"));
}
