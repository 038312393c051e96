// An ODBC connection string as the server engine uses it: the server,
// port, database and user it names (for messages, never the password), the
// text handed to the driver (with the fetch settings that keep a large
// result's memory flat), and the scrubbing of messages that might quote it.
#ifndef QUIRE_STORE_ODBC_CONNECTION_STRING_H_
#define QUIRE_STORE_ODBC_CONNECTION_STRING_H_

#include <string>
#include <string_view>

namespace quire::store::odbc {

struct ConnectionSettings {
  std::string server;    // Servername / Server / Host; empty when a DSN names it
  std::string port;      // empty when not given
  std::string database;  // Database; empty when a DSN names it
  std::string user;      // Username / UID / User
  std::string dsn;       // DSN, when given
  std::string password;  // Password / PWD: only to scrub it from messages
  // The connection string for the driver: the given one, plus
  // UseDeclareFetch=1 and Fetch=16 unless it sets them itself, so that the
  // driver fetches a result in blocks instead of holding all of it (Fetch
  // is the first block's least size; the statement asks for larger blocks
  // as a run goes on),
  // and Protocol=7.4-1, so that a failed statement fails its transaction
  // as the server has it instead of the driver wrapping every statement
  // in a savepoint of its own (a round trip each, and no SET TRANSACTION).
  std::string driver_text;
};

// Reads "Key=value;Key={value};..." (keys case-blind). False with *error
// set when the text is not a connection string.
bool parse_connection_string(std::string_view text, ConnectionSettings* out, std::string* error);

// "the server 127.0.0.1:5432 database shop" ("the data source NAME ..."
// when only a DSN is given); never the password.
std::string server_text(const ConnectionSettings& settings);

// message with every "Password=...", "PWD=..." value and every occurrence
// of the password itself replaced by "***", on one line (line breaks and
// tabs become single spaces, the driver manager's "[...]" tags dropped).
std::string scrub_message(std::string_view message, const ConnectionSettings& settings);

}  // namespace quire::store::odbc

#endif  // QUIRE_STORE_ODBC_CONNECTION_STRING_H_
