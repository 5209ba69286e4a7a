#include <filesystem>

#include "page_shots.h"
#include "ui/archiver_editor.h"
#include "ui/ui_test_support.h"

namespace zentrove::testing {
namespace {

ZENTROVE_PAGE_SHOTS(Archiver) {
  const std::string folder = shots::Folder() + "/archiver-config/";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::string(ZENTROVE_SOURCE_DIR) + "/share/archivers/7z.EMC", folder + "7z.EMC",
                             std::filesystem::copy_options::overwrite_existing);
  FakeUserInterface ui;
  ui::ArchiverEditor editor(nullptr, ui::ArchiverEditorContext{folder, &ui});
  editor.OpenFile(folder + "7z.EMC");
  shots::Save(editor, "archiver-01-editor");
}

}  // namespace
}  // namespace zentrove::testing
