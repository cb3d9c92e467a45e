#include "ast/src/lib.h"

#include <gtest/gtest.h>

namespace tolvo::ast {
namespace {

struct NamingCase {
  const char* path;
  const char* root;
  const char* expected;
};

TEST(ModuleNameTest, NamesPathsByComponents) {
  const NamingCase cases[] = {
      {"/proj/pkg/mod.py", "/proj", "pkg.mod"},
      {"/proj/pkg/__init__.py", "/proj", "pkg"},
      {"/proj/mod.py", "/proj", "mod"},
      {"/proj/a/b/c.py", "/proj", "a.b.c"},
      {"/proj/__init__.py", "/proj", "__init__"},
      {"/proj", "/proj", "proj"},
      {"/proj/", "/proj", "proj"},
      {"/proj/pkg/", "/proj", "pkg"},
      {"/proj//pkg/./mod.py", "/proj", "pkg.mod"},
      {"/proj/pkg/mod.pyi", "/proj", "pkg.mod.pyi"},
      {"/proj/pkg/data.txt", "/proj", "pkg.data.txt"},
      {"/proj/a.py/b.py", "/proj", "a.b"},
      {"/proj/pkg/.py", "/proj", "pkg."},
      {"/proj/pkg/__init__.py/mod.py", "/proj", "pkg.mod"},
      {"/proj/../x.py", "/proj", "x"},
      {"/other/x.py", "/proj", "x"},
      {"/other/archive.tar.py", "/proj", "archive.tar"},
      {"/other/.hidden", "/proj", ".hidden"},
      {"/proj/pkg/mod.py", "/proj/", "pkg.mod"},
      {"/proj/pkg/mod.py", "//proj/./", "pkg.mod"},
      {"/projx/mod.py", "/proj", "mod"},
      {"./pkg/mod.py", ".", "pkg.mod"},
      {"pkg/mod.py", "", "pkg.mod"},
      {"/x/a.py", "", "x.a"},
      {"proj/proj/a.py", "proj", "proj.a"},
      {"/home/u/proj/a.py", ".", "a"},
      // No normal last component: the whole text names it.
      {"/", "/proj", "/"},
      {"/other/..", "/proj", "/other/.."},
      {"", "/proj", ""},
      {"..", "", ".."},
  };
  for (const NamingCase& c : cases) {
    EXPECT_EQ(module_name_for_absolute_path(c.path, c.root), c.expected)
        << "path " << c.path << " root " << c.root;
  }
}

TEST(ModuleNameTest, AbsoluteFormJoinsRelativePathsOnly) {
  EXPECT_EQ(absolute_form("pkg/mod.py", "."), "./pkg/mod.py");
  EXPECT_EQ(absolute_form("pkg/mod.py", ""), "pkg/mod.py");
  EXPECT_EQ(absolute_form("pkg/mod.py", "/r/"), "/r/pkg/mod.py");
  EXPECT_EQ(absolute_form("/abs.py", "/r"), "/abs.py");
}

TEST(ModuleNamesTest, MemoMergesPathsEqualByComponents) {
  ModuleNames names({"a.py", "./a.py", "pkg/__init__.py"}, "/r");
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(names.name_for_path("a.py"), "a");
  EXPECT_EQ(names.name_for_path("./a.py"), "a");
  EXPECT_EQ(names.name_for_path("/r/a.py"), "a");
  EXPECT_EQ(names.name_for_path("/r//pkg/__init__.py/"), "pkg");
}

TEST(ModuleNamesTest, UnlistedPathIsComputedWithoutStoring) {
  ModuleNames names({"a.py"}, "/r");
  EXPECT_EQ(names.name_for_path("sub/b.py"), "sub.b");
  EXPECT_EQ(names.name_for_path("/elsewhere/c.py"), "c");
  EXPECT_EQ(names.size(), 1u);
}

TEST(ModuleNamesTest, EmptyListGivesEmptyMemo) {
  ModuleNames names({}, "/r");
  EXPECT_EQ(names.size(), 0u);
  EXPECT_EQ(names.name_for_path("x.py"), "x");
}

}  // namespace
}  // namespace tolvo::ast
