#include "engine/source_selection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/deep_tree.h"
#include "support/sandbox.h"

namespace zentrove::engine {
namespace {

namespace fs = std::filesystem;

TEST(ListSyntax, CountsAndItemsFollowTheSemicolons) {
  EXPECT_EQ(ListItemCount(""), 0);
  EXPECT_EQ(ListItemCount("a"), 1);
  EXPECT_EQ(ListItemCount("a;"), 1);
  EXPECT_EQ(ListItemCount("a;b"), 2);
  EXPECT_EQ(ListItemCount(";a;;b"), 4);
  EXPECT_EQ(ListItem(";a;;b", 0), "");
  EXPECT_EQ(ListItem(";a;;b", 1), "a");
  EXPECT_EQ(ListItem(";a;;b", 3), "b");
  EXPECT_EQ(ListItem("a;b;", 1), "b");
  EXPECT_EQ(ListItem("a;b", 2), "");
  EXPECT_EQ(ListItem(" a ;b", 0), " a ");  // items are not trimmed
  EXPECT_EQ(SplitList("a;;b;"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitList("").empty());
}

TEST(ListSyntax, ExpandsEnvironmentOnlyWhenAReferenceIsThere) {
  setenv("ZT_SELECTION_ROOT", "/srv/data", 1);
  EXPECT_EQ(ExpandEnvironment("%ZT_SELECTION_ROOT%/*.log;${ZT_SELECTION_ROOT}/x"),
            "/srv/data/*.log;/srv/data/x");
  EXPECT_EQ(ExpandEnvironment("/plain/$path/*.*"), "/plain/$path/*.*");
  EXPECT_EQ(ExpandEnvironment("%ZT_SELECTION_UNSET_VARIABLE%/*"), "%ZT_SELECTION_UNSET_VARIABLE%/*");
}

TEST(MaskRule, WildcardsSetsAndCase) {
  EXPECT_TRUE(MatchesMask("*", ""));
  EXPECT_TRUE(MatchesMask("*", "/a/b/c"));
  EXPECT_TRUE(MatchesMask("/data/*.doc", "/data/sub/deep/x.doc"));  // "*" crosses folders
  EXPECT_FALSE(MatchesMask("/data/*.doc", "/data/x.docx"));
  EXPECT_TRUE(MatchesMask("*.JPG", "/p/img_0001.jpg"));
  EXPECT_TRUE(MatchesMask("/Data/*", "/data/x"));
  EXPECT_TRUE(MatchesMask("a?c", "abc"));
  EXPECT_FALSE(MatchesMask("a?c", "ac"));
  EXPECT_TRUE(MatchesMask("a?c", "a/c"));
  EXPECT_TRUE(MatchesMask("caf?.txt", "caf\xC3\xA9.txt"));  // one UTF-8 character
  EXPECT_TRUE(MatchesMask("caf?.txt", "caf\xE9.txt"));      // one stray byte
  EXPECT_FALSE(MatchesMask("caf?.txt", "caf\xC3\xA9\xE9.txt"));
  EXPECT_TRUE(MatchesMask("[a-c]x", "Bx"));
  EXPECT_FALSE(MatchesMask("[a-c]x", "dx"));
  EXPECT_TRUE(MatchesMask("[!a-c]x", "dx"));
  EXPECT_FALSE(MatchesMask("[!a-c]x", "Ax"));
  EXPECT_TRUE(MatchesMask("[xyz-]", "-"));
  EXPECT_TRUE(MatchesMask("[\xC3\xA9]", "\xC3\xA9"));
  EXPECT_TRUE(MatchesMask("a[b", "a[b"));  // no "]": the "[" stands for itself
  EXPECT_TRUE(MatchesMask("a[]b", "a[]b"));
  EXPECT_TRUE(MatchesMask("*a*b*c*", "xxaxxbxxcxx"));
  EXPECT_FALSE(MatchesMask("*a*b*c*", "xxaxxcxxbxx"));
  EXPECT_FALSE(MatchesMask("", "a"));
}

TEST(MaskRule, ManyStarsDoNotBacktrackWithoutEnd) {
  // Matching that retried every split of the text among the stars would never finish here.
  const std::string text(4000, 'a');
  EXPECT_FALSE(MatchesMask("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", text));
  EXPECT_TRUE(MatchesMask("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*", text));
}

TEST(MaskRule, BaseFolderFolderPartAndAllFiles) {
  EXPECT_EQ(MaskBaseFolder("/data/*.doc"), "/data/");
  EXPECT_EQ(MaskBaseFolder("/data/a*/x.txt"), "/data/");
  EXPECT_EQ(MaskBaseFolder("/data/[ab]/x"), "/data/");
  EXPECT_EQ(MaskBaseFolder("/data/report.txt"), "/data/");
  EXPECT_EQ(MaskBaseFolder("*.txt"), "");
  EXPECT_EQ(FolderPart("/data/sub/x.txt"), "/data/sub/");
  EXPECT_EQ(NamePart("/data/sub/x.txt"), "x.txt");
  EXPECT_EQ(AllFilesMaskToStar("/d/*.*;x*.*y"), "/d/*;x*y");
}

class SourceSelectionTest : public testing::SandboxedTest {
 protected:
  std::string Root() const { return Sandbox().string() + "/data"; }

  std::vector<std::string> Paths(const SelectionSettings& settings, const SelectOptions& options = {}) {
    std::vector<std::string> paths;
    for (const SourceEntry& file : SourceSelection(settings).Select({}, options).files) {
      paths.push_back(file.path.substr(Sandbox().string().size()));
    }
    return paths;
  }

  static SelectionSettings Settings(std::string include, std::string exclude = "", bool subfolders = true) {
    SelectionSettings settings;
    settings.includeList = std::move(include);
    settings.excludeList = std::move(exclude);
    settings.processSubfolders = subfolders;
    return settings;
  }

  void MakeDataTree() {
    WriteFile("data/readme", "r");
    WriteFile("data/a.txt", "aa");
    WriteFile("data/Sub/b.txt", "bbb");
    WriteFile("data/Sub/x.tmp", "x");
    WriteFile("data/Other/c.doc", "c");
  }
};

TEST_F(SourceSelectionTest, AllFilesMaskTakesNamesWithoutDotAndSubfoldersOnlyWhenAsked) {
  MakeDataTree();
  EXPECT_EQ(Paths(Settings(Root() + "/*.*", "", false)),
            (std::vector<std::string>{"/data/a.txt", "/data/readme"}));
  // Files of a folder come before its subfolders, each sorted by name bytes.
  EXPECT_EQ(Paths(Settings(Root() + "/*.*")),
            (std::vector<std::string>{"/data/a.txt", "/data/readme", "/data/Other/c.doc", "/data/Sub/b.txt",
                                      "/data/Sub/x.tmp"}));
}

TEST_F(SourceSelectionTest, ExcludesWithAndWithoutFolders) {
  MakeDataTree();
  EXPECT_EQ(
      Paths(Settings(Root() + "/*.*", "*.tmp")),
      (std::vector<std::string>{"/data/a.txt", "/data/readme", "/data/Other/c.doc", "/data/Sub/b.txt"}));
  const std::vector<std::string> withoutSub{"/data/a.txt", "/data/readme", "/data/Other/c.doc"};
  EXPECT_EQ(Paths(Settings(Root() + "/*.*", Root() + "/Sub/*")), withoutSub);
  EXPECT_EQ(Paths(Settings(Root() + "/*.*", Root() + "/Sub/")), withoutSub);
  EXPECT_EQ(Paths(Settings(Root() + "/*.*", "Sub/*")), withoutSub);
  EXPECT_EQ(Paths(Settings(Root() + "/*.*", Root() + "/Sub/*.*")), withoutSub);
  // A common mask matches the name only, not some folder on the way.
  EXPECT_EQ(Paths(Settings(Root() + "/*.*", "Sub")).size(), 5u);
}

TEST_F(SourceSelectionTest, FolderExclusionPrunesTheWalkButOnlyForFolderMasks) {
  MakeDataTree();
  const SourceSelection selection(Settings(Root() + "/*", Root() + "/Sub/;/x/y?;*.tmp"));
  EXPECT_TRUE(selection.IsFolderExcluded(Root() + "/Sub/"));
  EXPECT_FALSE(selection.IsFolderExcluded(Root() + "/Other/"));
  EXPECT_FALSE(selection.IsFolderExcluded("/x/y/"));  // "?" may take the "/", but y?/z would not match
  std::vector<std::string> folders;
  WalkControl control;
  control.onFolder = [&folders](const std::string& folder) { folders.push_back(folder); };
  (void)selection.Select(control);
  EXPECT_EQ(folders, (std::vector<std::string>{Root() + "/", Root() + "/Other/"}));
}

TEST_F(SourceSelectionTest, EmptyItemsSelectAndExcludeNothing) {
  MakeDataTree();
  EXPECT_TRUE(Paths(Settings(";;")).empty());
  EXPECT_EQ(Paths(Settings(";" + Root() + "/*.txt;;", ";;"), {}),
            (std::vector<std::string>{"/data/a.txt", "/data/Sub/b.txt"}));
  EXPECT_EQ(Paths(Settings(Root() + "/*.txt", ";*.tmp;")).size(), 2u);
}

TEST_F(SourceSelectionTest, RelativeItemsSelectNothingWhateverTheWorkingFolder) {
  MakeDataTree();
  const fs::path previous = fs::current_path();
  fs::current_path(Root());
  EXPECT_TRUE(Paths(Settings("*.txt;Sub/*.*")).empty());
  fs::current_path(previous);
}

TEST_F(SourceSelectionTest, EnvironmentVariablesInItems) {
  WriteFile("tmp/one.log", "1");
  WriteFile("tmp/two.txt", "2");
  WriteFile("tmp/skip.log", "3");
  setenv("ZT_SELECTION_TEMP", (Sandbox() / "tmp").c_str(), 1);
  EXPECT_EQ(Paths(Settings("%ZT_SELECTION_TEMP%/*.log", "%ZT_SELECTION_TEMP%/skip*")),
            (std::vector<std::string>{"/tmp/one.log"}));
}

TEST_F(SourceSelectionTest, AFolderNamedAloneOrWithSlashStandsForAllItsFiles) {
  MakeDataTree();
  EXPECT_EQ(Paths(Settings(Root(), "", false)), (std::vector<std::string>{"/data/a.txt", "/data/readme"}));
  EXPECT_EQ(Paths(Settings(Root() + "/", "", false)),
            (std::vector<std::string>{"/data/a.txt", "/data/readme"}));
  // A single file item does not take files of the same name in subfolders.
  WriteFile("data/Sub/a.txt", "deeper");
  EXPECT_EQ(Paths(Settings(Root() + "/a.txt")), (std::vector<std::string>{"/data/a.txt"}));
}

TEST_F(SourceSelectionTest, DotPartsOfItemsAreResolvedSoPathsStayClean) {
  MakeDataTree();
  const SourceSelection selection(Settings(Root() + "/Sub/.././/Other/*.*"));
  ASSERT_EQ(selection.Includes().size(), 1u);
  EXPECT_EQ(selection.Includes()[0].baseFolder, Root() + "/Other/");
  EXPECT_EQ(Paths(Settings(Root() + "/Sub/.././/Other/*.*")),
            (std::vector<std::string>{"/data/Other/c.doc"}));
}

TEST_F(SourceSelectionTest, MissingBaseFolderContributesNothing) {
  MakeDataTree();
  EXPECT_EQ(Paths(Settings(Sandbox().string() + "/missing/*.*;" + Root() + "/*.txt", "", false)),
            (std::vector<std::string>{"/data/a.txt"}));
}

TEST_F(SourceSelectionTest, DuplicatesAreSkippedUnlessKept) {
  MakeDataTree();
  const auto settings = Settings(Root() + "/*.*;" + Root() + "/Sub/*.txt");
  EXPECT_EQ(Paths(settings).size(), 5u);
  SelectOptions keep;
  keep.duplicates = Duplicates::Keep;
  const auto all = SourceSelection(settings).Select({}, keep).files;
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all.back().path, Root() + "/Sub/b.txt");
  EXPECT_EQ(all.back().item, 1u);
}

TEST_F(SourceSelectionTest, ReportsSizeTimeAndTotal) {
  WriteFile("data/f.bin", "12345");
  const timespec times[2] = {{1700000000, 0}, {1600000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, (Root() + "/f.bin").c_str(), times, 0), 0);
  const auto selected = SourceSelection(Settings(Root() + "/*")).Select();
  ASSERT_EQ(selected.files.size(), 1u);
  EXPECT_EQ(selected.files[0].size, 5u);
  EXPECT_EQ(selected.files[0].mtimeNs, 1600000000123456789LL);
  EXPECT_EQ(selected.files[0].kind, EntryKind::File);
  EXPECT_EQ(selected.totalBytes, 5u);
}

TEST_F(SourceSelectionTest, LinksLoopsPipesAndOddNames) {
  WriteFile("data/target.txt", "target!");
  WriteFile("data/Sub/inner.txt", "i");
  ASSERT_EQ(symlink((Root() + "/target.txt").c_str(), (Root() + "/link.txt").c_str()), 0);
  ASSERT_EQ(symlink(Root().c_str(), (Root() + "/Sub/loop").c_str()), 0);
  ASSERT_EQ(symlink((Root() + "/nowhere").c_str(), (Root() + "/dangling.txt").c_str()), 0);
  ASSERT_EQ(mkfifo((Root() + "/pipe.txt").c_str(), 0600), 0);
  const std::string oddName = Root() + "/caf\xE9.txt";
  WriteFile("data/caf\xE9.txt", "latin-1 name");

  const auto selected = SourceSelection(Settings(Root() + "/*.*")).Select();
  std::vector<std::string> paths;
  for (const auto& file : selected.files)
    paths.push_back(file.path);
  EXPECT_EQ(paths, (std::vector<std::string>{oddName, Root() + "/link.txt", Root() + "/target.txt",
                                             Root() + "/Sub/inner.txt"}));
  EXPECT_EQ(selected.files[1].kind, EntryKind::LinkToFile);
  EXPECT_EQ(selected.files[1].size, 7u);
  EXPECT_EQ(selected.files[0].size, 12u);
}

TEST_F(SourceSelectionTest, CollectsFoldersIncludingEmptyOnes) {
  MakeDataTree();
  MakeDir("data/Empty/Deeper");
  SelectOptions options;
  options.collectFolders = true;
  const auto selected = SourceSelection(Settings(Root() + "/*.txt", "*.tmp")).Select({}, options);
  std::vector<std::string> folders;
  for (const auto& folder : selected.folders)
    folders.push_back(folder.path.substr(Root().size()));
  EXPECT_EQ(folders, (std::vector<std::string>{"/Empty/", "/Empty/Deeper/", "/Other/", "/Sub/"}));
  EXPECT_EQ(selected.folders[0].kind, EntryKind::Folder);
}

TEST_F(SourceSelectionTest, StopRequestEndsTheWalk) {
  MakeDir("data");
  for (int i = 0; i < 600; ++i)
    close(creat((Root() + "/f" + std::to_string(i)).c_str(), 0600));
  std::atomic<int> polls{0};
  WalkControl control;
  control.stopRequested = [&polls] { return ++polls > 3; };
  const auto selected = SourceSelection(Settings(Root() + "/*")).Select(control);
  EXPECT_TRUE(selected.stopped);
  EXPECT_LT(selected.files.size(), 600u);
  EXPECT_FALSE(SourceSelection(Settings(Root() + "/*")).Select().stopped);
}

// Each level of a walk keeps a descriptor open only down to a certain depth; below it, levels find
// theirs again on the way back, so a folder with more subfolders is still walked whole.
TEST_F(SourceSelectionTest, ADeepTreeIsWalkedWholeWithABoundedNumberOfDescriptors) {
  using testing::MakeDeepTree;
  MakeDir("data");
  const std::string deep = MakeDeepTree(Root(), 100, 1, "f.txt", "f");
  ASSERT_FALSE(deep.empty());
  const std::string folder = std::string(FolderPart(deep));
  ASSERT_FALSE(MakeDeepTree(folder, 80, 2, "g.txt", "g").empty());
  ASSERT_FALSE(MakeDeepTree(folder, 80, 3, "h.txt", "h").empty());

  const auto openDescriptors = [] {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      (void)entry;
      ++count;
    }
    return count;
  };
  const std::size_t before = openDescriptors();
  std::size_t most = before;
  WalkControl control;
  control.onFolder = [&](const std::string&) { most = std::max(most, openDescriptors()); };
  std::vector<std::string> unreadable;
  control.onUnreadableFolder = [&](const std::string& path, int) { unreadable.push_back(path); };
  const auto selected = SourceSelection(Settings(Root() + "/*")).Select(control);

  std::vector<std::string> names;
  for (const SourceEntry& file : selected.files)
    names.emplace_back(NamePart(file.path));
  EXPECT_EQ(names, (std::vector<std::string>{"f.txt", "g.txt", "h.txt"}));
  EXPECT_TRUE(unreadable.empty()) << unreadable.size();
  EXPECT_LT(most - before, 64u);
}

class BackupKindTest : public SourceSelectionTest {
 protected:
  void SetUp() override {
    SourceSelectionTest::SetUp();
    WriteFile("data/a.txt", "a");
    WriteFile("data/b.txt", "b");
    WriteFile("data/c.tmp", "c");
    if (!platform::SupportsUserAttributes(Root() + "/a.txt")) {
      GTEST_SKIP() << "the sandbox file system keeps no user extended attributes";
    }
  }

  core::TArhRecord Task(bool reset, bool onlyMarked) const {
    core::TArhRecord task;
    task.FileSourceMask = Root() + "/*.*";
    task.FileSourceExcludeMask = "*.tmp";
    task.ResetArchiveBitOnZip = reset;
    task.SkipIfArchiveBitNotSet = onlyMarked;
    return task;
  }

  // One run as the writer performs it: take the selected files, then clear their marks when the
  // kind asks for it.
  std::vector<std::string> Run(const core::TArhRecord& task) {
    std::vector<std::string> names;
    for (const auto& file : SourceSelection::FromTask(task).Select().files) {
      names.emplace_back(NamePart(file.path));
      if (task.ResetArchiveBitOnZip) {
        EXPECT_TRUE(platform::ClearArchiveAttribute(file.path).Ok());
      }
    }
    return names;
  }

  void Touch(const std::string& name, const std::string& content) { WriteFile("data/" + name, content); }
};

TEST_F(BackupKindTest, IncrementalTakesOnlyChangesAndClears) {
  const auto task = Task(true, true);
  EXPECT_EQ(Run(task), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_TRUE(Run(task).empty());
  EXPECT_FALSE(FilesAvailable(task));
  Touch("b.txt", "changed");
  EXPECT_TRUE(FilesAvailable(task));
  EXPECT_EQ(Run(task), (std::vector<std::string>{"b.txt"}));
}

TEST_F(BackupKindTest, IncrementalWithOnlyAnExcludedChangeHasNoFiles) {
  const auto task = Task(true, true);
  (void)Run(task);
  Touch("c.tmp", "changed");
  EXPECT_FALSE(FilesAvailable(task));
}

TEST_F(BackupKindTest, DifferentialTakesTheSameFilesTwice) {
  (void)Run(Task(true, false));  // full backup clears every mark
  Touch("a.txt", "changed");
  const auto differential = Task(false, true);
  EXPECT_EQ(Run(differential), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(Run(differential), (std::vector<std::string>{"a.txt"}));
}

TEST_F(BackupKindTest, MarksAreReportedWhenAskedFor) {
  (void)Run(Task(true, false));
  Touch("b.txt", "changed");
  SelectOptions options;
  options.readArchiveMarks = true;
  const auto files = SourceSelection::FromTask(Task(false, false)).Select({}, options).files;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_FALSE(files[0].archiveMarked);
  EXPECT_TRUE(files[1].archiveMarked);
}

TEST_F(BackupKindTest, FullKindsTakeEverythingAndOnlyOneClears) {
  EXPECT_EQ(Run(Task(false, false)), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_TRUE(platform::IsArchiveAttributeSet(Root() + "/a.txt"));
  EXPECT_EQ(Run(Task(true, false)), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_FALSE(platform::IsArchiveAttributeSet(Root() + "/a.txt"));
  EXPECT_EQ(Run(Task(true, false)), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(StoredPaths, RelativeToTheFirstSourceFolderThatStartsTheFolder) {
  const std::vector<std::string> sources{"/data/", "/other/"};
  const auto rule = StoredPathRule::RelativeToSources;
  EXPECT_EQ(StoredPath("/data/Sub/a.doc", sources, rule), "Sub/a.doc");
  EXPECT_EQ(StoredPath("/other/b.txt", sources, rule), "b.txt");
  EXPECT_EQ(StoredPath("/DATA/x/c", sources, rule), "x/c");
  // A source folder that occurs inside the folder, not at its start, removes nothing.
  EXPECT_EQ(StoredPath("/mnt/data/d", sources, rule), "mnt/data/d");
  EXPECT_EQ(StoredFolder("/data/", sources, rule), "");
}

TEST(StoredPaths, FullPathWithoutRootAndNetworkShare) {
  const std::vector<std::string> sources{"/data/"};
  const auto rule = StoredPathRule::FullPathWithoutRoot;
  EXPECT_EQ(StoredFolder("/data/Sub/", sources, rule), "data/Sub/");
  EXPECT_EQ(StoredFolder("//server/share/dir/", sources, rule), "dir/");
  EXPECT_EQ(StoredFolder("//server/share/", sources, rule), "");
  EXPECT_EQ(StoredFolder("//server/", sources, rule), "");
  EXPECT_EQ(StoredFolder("/a/../../b/./c/", sources, rule), "a/b/c/");
  EXPECT_EQ(StoredPath("/data/Sub/a.doc", sources, StoredPathRule::NamesOnly), "a.doc");
}

TEST_F(SourceSelectionTest, TwoIncludeItemsGiveTheSourceFolderList) {
  WriteFile("data/Sub/a.doc", "a");
  WriteFile("other/b.txt", "b");
  const std::string other = Sandbox().string() + "/other";
  const SourceSelection selection(Settings(Root() + "/*.*;" + other + "/*.txt"));
  EXPECT_EQ(selection.SourceFolders(), (std::vector<std::string>{Root() + "/", other + "/"}));
  std::vector<std::string> stored;
  for (const auto& file : selection.Select().files) {
    stored.push_back(StoredPath(file.path, selection.SourceFolders(), StoredPathRule::RelativeToSources));
  }
  EXPECT_EQ(stored, (std::vector<std::string>{"Sub/a.doc", "b.txt"}));
}

TEST_F(SourceSelectionTest, DeletesExactlyTheArchivedFilesThatAreUnchanged) {
  WriteFile("data/keep.txt", "k");
  WriteFile("data/gone.txt", "g");
  WriteFile("data/changed.txt", "c");
  WriteFile("data/target.txt", "t");
  ASSERT_EQ(symlink((Root() + "/target.txt").c_str(), (Root() + "/link.txt").c_str()), 0);
  auto files = SourceSelection(Settings(Root() + "/*.*", "keep.txt")).Select().files;
  ASSERT_EQ(files.size(), 4u);
  WriteFile("data/changed.txt", "changed since it was read");
  files.erase(files.end() - 1);  // target.txt was not archived
  const DeleteReport report = DeleteArchivedSources(files);
  EXPECT_EQ(report.deleted, 2u);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures[0].path, Root() + "/changed.txt");
  EXPECT_EQ(report.failures[0].errorCode, 0);
  EXPECT_TRUE(fs::exists(Root() + "/keep.txt"));
  EXPECT_TRUE(fs::exists(Root() + "/changed.txt"));
  EXPECT_TRUE(fs::exists(Root() + "/target.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Root() + "/link.txt")));
  EXPECT_FALSE(fs::exists(Root() + "/gone.txt"));
}

}  // namespace
}  // namespace zentrove::engine
