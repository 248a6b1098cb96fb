#include "product_files/locate.h"

#include <gtest/gtest.h>

#include "testing/fake_platform.h"

namespace sealprobe {
namespace {

using fakes::Event;
using fakes::EventLog;

const NativeString kCommon = SP_TEXT("C:\\Common\\");
const NativeString kProduct = SP_TEXT("C:\\Product\\");

struct LocateFixture {
  EventLog log;
  fakes::FakeConsole console{log};
  fakes::FakeFileOpener files{log};

  std::optional<LocatedFile> Locate(NativeStringView name,
                                    const NativeString& common = kCommon,
                                    const NativeString& product = kProduct) {
    return LocateProductFile(name, common, product, files, console);
  }
};

TEST(LocateProductFileTest, CommonFilesCopyWinsAndProductIsNeverOpened) {
  LocateFixture f;
  f.files.present = {SP_TEXT("C:\\Common\\a.dll"),
                     SP_TEXT("C:\\Product\\a.dll")};
  {
    std::optional<LocatedFile> found = f.Locate(SP_TEXT("a.dll"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, SP_TEXT("C:\\Common\\a.dll"));
    EXPECT_EQ(found->folder, ProductFolder::kCommonFiles);
    EXPECT_EQ(f.log,
              (EventLog{Event(SP_TEXT("open"), SP_TEXT("C:\\Common\\a.dll"))}));
  }
  // The probe handle passes to the caller and closes with it.
  EXPECT_EQ(f.log.back(),
            Event(SP_TEXT("close"), SP_TEXT("C:\\Common\\a.dll")));
  EXPECT_TRUE(f.console.output.empty());
}

TEST(LocateProductFileTest, FallsBackToProductFolder) {
  LocateFixture f;
  f.files.present = {SP_TEXT("C:\\Product\\a.dll")};
  std::optional<LocatedFile> found = f.Locate(SP_TEXT("a.dll"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path, SP_TEXT("C:\\Product\\a.dll"));
  EXPECT_EQ(found->folder, ProductFolder::kProduct);
  EXPECT_EQ(f.log,
            (EventLog{Event(SP_TEXT("miss"), SP_TEXT("C:\\Common\\a.dll")),
                      Event(SP_TEXT("open"), SP_TEXT("C:\\Product\\a.dll"))}));
}

TEST(LocateProductFileTest, MissingFileGetsBareNameLine) {
  LocateFixture f;
  EXPECT_FALSE(f.Locate(SP_TEXT("tv-Palette.dll")));
  EXPECT_EQ(f.console.output, SP_TEXT("\tNon-existing file: tv-Palette.dll\n"));
}

TEST(LocateProductFileTest, FoldersAreJoinedWithoutSeparator) {
  const struct {
    NativeString common, product;
    NativeString first_probe, second_probe;
  } kCases[] = {
      {SP_TEXT("C:\\Common"), SP_TEXT("C:\\Product"),
       SP_TEXT("C:\\Commona.dll"), SP_TEXT("C:\\Producta.dll")},
      {SP_TEXT(""), SP_TEXT(""), SP_TEXT("a.dll"), SP_TEXT("a.dll")},
      {SP_TEXT("C:\\Common\\\\"), SP_TEXT("/p/"),
       SP_TEXT("C:\\Common\\\\a.dll"), SP_TEXT("/p/a.dll")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    LocateFixture f;
    EXPECT_FALSE(f.Locate(SP_TEXT("a.dll"), c.common, c.product));
    EXPECT_EQ(f.log[0], Event(SP_TEXT("miss"), c.first_probe));
    EXPECT_EQ(f.log[1], Event(SP_TEXT("miss"), c.second_probe));
  }
}

}  // namespace
}  // namespace sealprobe
