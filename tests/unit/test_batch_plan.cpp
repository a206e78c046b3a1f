// The batch plan: which files a folder gives, and what is refused before any work.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dehazefile/batch_plan.h"
#include "dehazefile/dehaze_file.h"

namespace vantorel {
namespace {

class BatchPlanTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantorel_plan_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Touch(const std::string& name) const { std::ofstream(Path(name)) << "x"; }

  bool Plan(BatchRequest request) {
    items_.clear();
    notes_.clear();
    error_.clear();
    return PlanBatch(request, items_, error_, notes_);
  }

  std::string dir_;
  std::vector<BatchItem> items_;
  std::vector<std::string> notes_;
  std::string error_;
};

TEST_F(BatchPlanTest, AFolderGivesItsRegularPicturesAndItsLinksToNothing) {
  ASSERT_EQ(::mkdir(Path("in").c_str(), 0777), 0);
  Touch("in/a.jpg");
  Touch("in/notes.txt");
  ASSERT_EQ(::mkfifo(Path("in/pipe.jpg").c_str(), 0666), 0);
  ASSERT_EQ(::symlink("a.jpg", Path("in/b.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("gone.png", Path("in/dangling.png").c_str()), 0);
  ASSERT_TRUE(Plan({{Path("in")}, Path("out"), false, "", "", false, 0, ""})) << error_;
  std::vector<std::string> sources;
  for (const BatchItem& item : items_) sources.push_back(item.source);
  // The link to a picture is one; the link to nothing fails in its turn, as when named.
  EXPECT_EQ(sources, (std::vector<std::string>{Path("in/a.jpg"), Path("in/b.jpg"), Path("in/dangling.png")}));
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], "1 file that is not a regular file (a FIFO, socket or device) left out");
}

TEST_F(BatchPlanTest, AResultThatIsASourceThroughALinkIsRefused) {
  ASSERT_EQ(::mkdir(Path("src").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(Path("out").c_str(), 0777), 0);
  Touch("src/a.png");
  ASSERT_EQ(::symlink("../src/a.png", Path("out/a.png").c_str()), 0);
  EXPECT_FALSE(Plan({{Path("src/a.png")}, Path("out"), false, ".png", "", false, 0, ""}));
  EXPECT_EQ(error_, Path("out/a.png") + ", the result of " + Path("src/a.png") +
                        ", is one of the sources: it would be replaced");
}

TEST_F(BatchPlanTest, ASuffixThatNamesAFolderIsRefused) {
  Touch("a.jpg");
  EXPECT_FALSE(Plan({{Path("a.jpg")}, Path("out"), false, "", "/../x", false, 0, ""}));
  EXPECT_EQ(error_, "the suffix '/../x' must not name a folder");
}

// Clips are taken from folders by extension beside pictures; their results keep a container
// clips can be written in (else mkv), or take --video-format's, and get no map.
TEST_F(BatchPlanTest, AFolderGivesItsClipsWithTheirContainers) {
  ASSERT_EQ(::mkdir(Path("in").c_str(), 0777), 0);
  for (const char* name : {"a.jpg", "b.MOV", "c.avi", "d.webm", "e.txt"}) Touch(std::string("in/") + name);
  ASSERT_TRUE(Plan({{Path("in")}, Path("out"), false, ".png", "", true, 0, ""})) << error_;
  std::vector<std::string> results, maps;
  for (const BatchItem& item : items_) {
    results.push_back(item.result.substr(Path("out/").size()) + (item.clip ? " clip" : ""));
    maps.push_back(item.map.empty() ? "" : item.map.substr(Path("out/").size()));
  }
  EXPECT_EQ(results, (std::vector<std::string>{"a.png", "b.MOV clip", "c.mkv clip", "d.webm clip"}));
  EXPECT_EQ(maps, (std::vector<std::string>{"a.transmission.png", "", "", ""}));
  ASSERT_TRUE(Plan({{Path("in/b.MOV"), Path("in/c.avi")}, Path("out"), false, "", "", false, 0, "mp4"})) << error_;
  ASSERT_EQ(items_.size(), 2u);
  EXPECT_EQ(items_[0].result, Path("out/b.mp4"));
  EXPECT_EQ(items_[1].result, Path("out/c.mp4"));
}

TEST(BatchFormat, TakesAnExtensionInAnyFormAndRefusesWhatIsNone) {
  std::string format, error;
  for (const char* given : {"png", ".png", "PNG"}) {
    ASSERT_TRUE(BatchFormat(given, format, error)) << given << ": " << error;
    EXPECT_EQ(format, ".png") << given;
  }
  ASSERT_TRUE(BatchFormat("", format, error));
  EXPECT_EQ(format, "");
  for (const char* given : {".", "a/b", "tar.gz", "pgm"}) {
    EXPECT_FALSE(BatchFormat(given, format, error)) << given;
    EXPECT_FALSE(error.empty()) << given;
  }
}

TEST(ReadSourceFile, ANamedPipeIsRefusedWithoutWaitingOnIt) {
  char pattern[] = "/tmp/vantorel_fifo_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string fifo = std::string(pattern) + "/f.jpg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  SourcePicture source;
  FileError error;
  EXPECT_FALSE(ReadSourceFile(fifo, source, error));  // would block for ever if it opened it
  EXPECT_EQ(error.message, "not a regular file but a named pipe (FIFO): it is not read");
  const std::string dangling = std::string(pattern) + "/d.jpg";
  ASSERT_EQ(::symlink("nowhere.jpg", dangling.c_str()), 0);
  EXPECT_FALSE(ReadSourceFile(dangling, source, error));
  EXPECT_EQ(error.kind, FileError::Kind::kUnreadable);
  EXPECT_EQ(error.message, "a symbolic link to a file that does not exist");
  std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
}

}  // namespace
}  // namespace vantorel
