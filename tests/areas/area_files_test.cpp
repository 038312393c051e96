// The store's area file written by import, and the file written by export,
// with every file call of theirs made to fail in turn (ENOSPC, EIO): a
// failed import leaves the store as it was, a failed export the target as
// it was, and neither leaves a temporary file; and neither writes through a
// symbolic link planted at the name of its new file.
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "store/plotbase_test_support.h"
#include "support/faulty_file_env.h"

namespace plotbase_test {
namespace {

namespace fs = std::filesystem;
using quire::testing::FaultyFileEnv;
using quire::testing::InstalledFileEnv;
using quire::testing::read_file;
using quire::testing::TempStore;
using quire::testing::write_file;

json changed_area() {
  json area = sample_area();
  area["markers"][0]["user_last_mod"] = "dave";
  return area;
}

// Whether status is a success, its message in *message.
bool succeeded(const quire::Status& status, std::string* message) {
  *message = status.message();
  return status.ok();
}

// Runs write under a fault at call n for every n until write makes fewer
// calls; check(failed, message, failed_remove) judges each outcome.
template <typename Setup, typename Write, typename Check>
void for_every_call(int error, Setup setup, Write write, Check check) {
  for (int n = 1;; ++n) {
    SCOPED_TRACE("call " + std::to_string(n));
    TempStore store;
    setup(store);
    std::string message;
    bool ok, tripped, failed_remove;
    {
      FaultyFileEnv env;
      InstalledFileEnv installed(env);
      env.fail_at(std::nullopt, n, error);
      ok = write(store, &message);
      tripped = env.tripped();
      failed_remove = tripped && env.tripped_kind() == quire::platform::FileCall::kRemove;
    }
    if (!tripped) {
      EXPECT_TRUE(ok) << message;
      EXPECT_GT(n, 3);
      return;
    }
    const bool written_unsynced = message.find("is written, but") != std::string::npos;
    if (!ok && !written_unsynced) {
      EXPECT_NE(std::string::npos, message.find(std::strerror(error))) << message;
      EXPECT_EQ(std::string::npos, message.find('\n')) << message;
    }
    check(store, ok || written_unsynced, failed_remove);
    if (::testing::Test::HasFailure()) return;
  }
}

class AreaFileFaults : public ::testing::TestWithParam<int> {};

TEST_P(AreaFileFaults, FailedImportLeavesTheStoreAsItWas) {
  std::map<std::string, std::string> before;
  std::string changed_export;
  for_every_call(
      GetParam(),
      [&](TempStore& store) {
        import_ok(sample_area());
        before = snapshot(store.store());
      },
      [&](TempStore&, std::string* message) {
        return succeeded(quire::areas::import_area_json(changed_area().dump()), message);
      },
      [&](TempStore& store, bool written, bool failed_remove) {
        if (changed_export.empty()) {
          TempStore clean;
          import_ok(changed_area());
          changed_export = export_text("Sample");
        }
        if (written) {
          EXPECT_EQ(changed_export, export_text("Sample"));
        } else if (!failed_remove) {
          EXPECT_EQ(before, snapshot(store.store()));
        }
        // The next import removes what a failed removal left.
        import_ok(changed_area());
        EXPECT_EQ(changed_export, export_text("Sample"));
        EXPECT_EQ(1u, snapshot(store.store()).size());
      });
}

TEST_P(AreaFileFaults, FailedExportLeavesTheFileAsItWas) {
  std::string exported;
  for_every_call(
      GetParam(),
      [&](TempStore& store) {
        import_ok(sample_area());
        exported = export_text("Sample");
        write_file(store.path("area.json"), "earlier export");
      },
      [&](TempStore& store, std::string* message) {
        return succeeded(quire::areas::export_area_file("Sample", store.path("area.json")), message);
      },
      [&](TempStore& store, bool written, bool failed_remove) {
        EXPECT_EQ(written ? exported : "earlier export", read_file(store.path("area.json")));
        if (!failed_remove) {
          EXPECT_EQ(1u, snapshot(store.work()).size());
        }
      });
}

INSTANTIATE_TEST_SUITE_P(Errors, AreaFileFaults, ::testing::Values(ENOSPC, EIO),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == ENOSPC ? "Enospc" : "Eio");
                         });

#ifndef _WIN32  // symbolic links
TEST(AreaFileLinks, LinksPlantedAtNewFileNamesAreNeverWrittenThrough) {
  TempStore store;
  const std::string victim = (store.root() / "victim").string();
  write_file(victim, "someone else's file");
  FaultyFileEnv env;
  InstalledFileEnv installed(env);
  env.plant_links(victim, 2);
  import_ok(sample_area());
  EXPECT_EQ(2, env.planted());
  env.plant_links(victim, 2);
  quire::Status status = quire::areas::export_area_file("Sample", store.path("area.json"));
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(4, env.planted());
  EXPECT_EQ(export_text("Sample"), read_file(store.path("area.json")));
  EXPECT_EQ("someone else's file", read_file(victim));
}
#endif

}  // namespace
}  // namespace plotbase_test
