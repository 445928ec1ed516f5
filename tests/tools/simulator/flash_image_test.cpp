#include "flash_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "frame/my_exception.h"
#include "support/test_support.h"

using zelmar::sim::FlashImage;
namespace flash = zelmar::sim::flash;

namespace {

std::string RaisedMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const MyExceptionPtr& e) {
        return e->GetMsg();
    }
    return "";
}

TEST(FlashImage, StartsErasedWithTheInstrumentsSize) {
    FlashImage image;
    EXPECT_TRUE(image.IsErased(0, flash::kSize));
    EXPECT_EQ(image.Byte(flash::kSize - 1), 0xFF);
    EXPECT_EQ(flash::kHourSlots, 32768);
    EXPECT_EQ(flash::kMinuteSlots, 97280);
    EXPECT_EQ(flash::HourSlotAddr(1), 0x300010u);
    EXPECT_EQ(flash::MinuteSlotAddr(1), 0x8020u);
}

TEST(FlashImage, WordsAndLongsAreBigEndian) {
    FlashImage image;
    image.SetWord(0x10, 0x1234);
    image.SetLong(0x20, 0x00300010);
    EXPECT_EQ(image.Byte(0x10), 0x12);
    EXPECT_EQ(image.Byte(0x11), 0x34);
    EXPECT_EQ(image.Word(0x10), 0x1234);
    const uint8_t expected[4] = {0x00, 0x30, 0x00, 0x10};
    uint8_t got[4];
    image.Read(0x20, got, 4);
    EXPECT_EQ(0, std::memcmp(got, expected, 4));
    EXPECT_EQ(image.Long(0x20), 0x00300010u);
    image.Erase(0x10, 2);
    EXPECT_TRUE(image.IsErased(0x10, 2));
}

TEST(FlashImage, AccessPastTheEndIsRefused) {
    FlashImage image;
    EXPECT_FALSE(FlashImage::Contains(flash::kSize - 1, 2));
    EXPECT_TRUE(FlashImage::Contains(flash::kSize - 2, 2));
    EXPECT_THROW(image.Word(flash::kSize - 1), MyExceptionPtr);
    EXPECT_THROW(image.SetLong(flash::kSize - 3, 0), MyExceptionPtr);
    // The image stays as it was.
    EXPECT_TRUE(image.IsErased(flash::kSize - 8, 8));
}

TEST(FlashImage, SaveThenLoadGivesTheSameBytes) {
    const std::string dir = test::MakeTempDir("flash-image");
    FlashImage image;
    image.SetLong(0x4000, 0x00008000);
    image.SetByte(flash::kSize - 1, 0x42);
    image.Save(dir + "/a.img");
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/a.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(flash::kSize));
    EXPECT_TRUE(FlashImage::Load(dir + "/a.img") == image);
    EXPECT_FALSE(test::FileExists(dir + "/a.img.tmp"));
}

TEST(FlashImage, LoadErrorsNameTheFile) {
    const std::string dir = test::MakeTempDir("flash-image");
    test::WriteFile(dir + "/short.img", std::string(100, '\xFF'));
    const std::string wrongSize = RaisedMessage([&] { FlashImage::Load(dir + "/short.img"); });
    EXPECT_NE(wrongSize.find(dir + "/short.img"), std::string::npos) << wrongSize;
    EXPECT_NE(wrongSize.find("100"), std::string::npos) << wrongSize;
    EXPECT_NE(wrongSize.find("3670016"), std::string::npos) << wrongSize;

    const std::string missing = RaisedMessage([&] { FlashImage::Load(dir + "/none.img"); });
    EXPECT_NE(missing.find(dir + "/none.img"), std::string::npos) << missing;
    EXPECT_NE(missing.find("Не удалось открыть"), std::string::npos) << missing;

    const std::string folder = RaisedMessage([&] { FlashImage::Load(dir); });
    EXPECT_NE(folder.find(dir), std::string::npos) << folder;
}

TEST(FlashImage, SaveIntoAMissingFolderFailsNamingTheFile) {
    const std::string dir = test::MakeTempDir("flash-image");
    const std::string msg = RaisedMessage([&] { FlashImage().Save(dir + "/no/such/x.img"); });
    EXPECT_NE(msg.find(dir + "/no/such/x.img"), std::string::npos) << msg;
}

}  // namespace
