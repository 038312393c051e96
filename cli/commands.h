// The two command families of the quire program.
#ifndef QUIRE_CLI_COMMANDS_H_
#define QUIRE_CLI_COMMANDS_H_

namespace quire::cli {

// `quire area SUBCOMMAND ...`; argv[0] is "area". Returns the exit status.
int run_area_command(int argc, char** argv);

// `quire KIND [host options] ARG...`; argv[0] is the kind ("mkpc", ...).
// Returns the exit status: 0 when the report command returned 1, 1 when it
// returned 0, 2 for a usage error of the host.
int run_report_command_line(int argc, char** argv);

// The usage text of the whole program.
const char* program_usage();

}  // namespace quire::cli

#endif  // QUIRE_CLI_COMMANDS_H_
