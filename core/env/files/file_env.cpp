#include "quire/files/file_env.h"

namespace quire::platform {

namespace {

FileEnv* g_env = nullptr;

}  // namespace

FileEnv& file_env() { return g_env != nullptr ? *g_env : system_file_env(); }

void set_file_env(FileEnv* env) { g_env = env; }

}  // namespace quire::platform
