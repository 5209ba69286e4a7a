#include <filesystem>

#include "page_shots.h"
#include "ui/archiver_editor.h"
#include "ui/ui_test_support.h"

using namespace zentrove;

ZENTROVE_PAGE_SHOTS(Archiver) {
  const std::string folder = testing::shots::Folder() + "/archiver-config/";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::string(ZENTROVE_SOURCE_DIR) + "/share/archivers/7z.EMC", folder + "7z.EMC",
                             std::filesystem::copy_options::overwrite_existing);
  testing::FakeUserInterface ui;
  ui::ArchiverEditor editor(nullptr, {folder, &ui});
  editor.OpenFile(folder + "7z.EMC");
  testing::shots::Save(editor, "archiver-01-editor");
}
