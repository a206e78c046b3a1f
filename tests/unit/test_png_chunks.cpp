// PNG chunk listing, making and the naming of an unnamed colour profile.
#include "dehazefile/png_chunks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantorel {
namespace {

const std::vector<unsigned char> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<unsigned char> Png(const std::vector<std::vector<unsigned char>>& chunks) {
  std::vector<unsigned char> png = kSignature;
  for (const auto& chunk : chunks) png.insert(png.end(), chunk.begin(), chunk.end());
  return png;
}

TEST(PngChunks, MakesChunkWithLengthTypeDataAndCrc) {
  // The CRC of "IEND" with no data is the well-known ae 42 60 82.
  EXPECT_EQ(MakePngChunk("IEND", {}),
            (std::vector<unsigned char>{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82}));
  const std::vector<unsigned char> chunk = MakePngChunk("tEXt", Bytes("ab"));
  ASSERT_EQ(chunk.size(), 14u);
  EXPECT_EQ(std::vector<unsigned char>(chunk.begin(), chunk.begin() + 10),
            (std::vector<unsigned char>{0, 0, 0, 2, 't', 'E', 'X', 't', 'a', 'b'}));
}

TEST(PngChunks, ListsChunksInOrder) {
  const std::vector<unsigned char> png =
      Png({MakePngChunk("IHDR", std::vector<unsigned char>(13, 1)), MakePngChunk("tEXt", Bytes("kv")),
           MakePngChunk("IEND", {})});
  const std::vector<PngChunk> chunks = ListPngChunks(png);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[0].offset, 8u);
  EXPECT_EQ(chunks[0].length, 13u);
  EXPECT_EQ(chunks[1].type, "tEXt");
  EXPECT_EQ(chunks[1].offset, 8u + 12 + 13);
  EXPECT_EQ(chunks[2].type, "IEND");
}

TEST(PngChunks, RefusesDamagedFiles) {
  const std::vector<unsigned char> good = Png({MakePngChunk("IHDR", std::vector<unsigned char>(13, 1)),
                                               MakePngChunk("IEND", {})});
  ASSERT_FALSE(ListPngChunks(good).empty());

  std::vector<unsigned char> bad_signature = good;
  bad_signature[1] = 'J';
  EXPECT_TRUE(ListPngChunks(bad_signature).empty());

  std::vector<unsigned char> bad_crc = good;
  bad_crc[8 + 8] ^= 1;  // a data byte of IHDR
  EXPECT_TRUE(ListPngChunks(bad_crc).empty());

  const std::vector<unsigned char> truncated(good.begin(), good.end() - 1);
  EXPECT_TRUE(ListPngChunks(truncated).empty());

  std::vector<unsigned char> trailing = good;
  trailing.push_back(0);
  EXPECT_TRUE(ListPngChunks(trailing).empty());

  std::vector<unsigned char> huge_length = good;
  huge_length[8] = 0xff;  // IHDR's length runs far past the end
  EXPECT_TRUE(ListPngChunks(huge_length).empty());

  EXPECT_TRUE(ListPngChunks(Png({MakePngChunk("IHDR", {})})).empty());  // no IEND
}

TEST(PngChunks, NamesAnUnnamedProfileAndKeepsTheRest) {
  const std::vector<unsigned char> profile = {0, 0, 0x78, 0x9c, 1, 2, 3};  // "", method 0, data
  const std::vector<unsigned char> ihdr = MakePngChunk("IHDR", std::vector<unsigned char>(13, 1));
  const std::vector<unsigned char> iend = MakePngChunk("IEND", {});
  std::vector<unsigned char> png = Png({ihdr, MakePngChunk("iCCP", profile), iend});

  ASSERT_TRUE(NameUnnamedIccProfile(png));

  std::vector<unsigned char> named = Bytes("ICC profile");
  named.insert(named.end(), profile.begin(), profile.end());
  EXPECT_EQ(png, Png({ihdr, MakePngChunk("iCCP", named), iend}));
  ASSERT_FALSE(ListPngChunks(png).empty());

  // Already named: nothing changes.
  const std::vector<unsigned char> before = png;
  ASSERT_TRUE(NameUnnamedIccProfile(png));
  EXPECT_EQ(png, before);
}

TEST(PngChunks, NamingLeavesOtherFilesAlone) {
  std::vector<unsigned char> not_png = Bytes("GIF89a");
  EXPECT_FALSE(NameUnnamedIccProfile(not_png));
  EXPECT_EQ(not_png, Bytes("GIF89a"));

  std::vector<unsigned char> no_profile =
      Png({MakePngChunk("IHDR", std::vector<unsigned char>(13, 1)), MakePngChunk("IEND", {})});
  const std::vector<unsigned char> before = no_profile;
  EXPECT_TRUE(NameUnnamedIccProfile(no_profile));
  EXPECT_EQ(no_profile, before);
}

}  // namespace
}  // namespace vantorel
