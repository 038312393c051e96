// The server engine's reading of connection strings and scrubbing of
// messages: no server needed.
#include <gtest/gtest.h>

#include "connection_string.h"
#include "odbc_session.h"

namespace quire::store::odbc {
namespace {

TEST(ConnectionString, NamesServerAndAddsBlockFetching) {
  ConnectionSettings s;
  std::string error;
  ASSERT_TRUE(parse_connection_string(
      "Driver=/x/psqlodbcw.so;servername=10.0.0.5; Port = 5433;Database={pat;terns};UID=ann;PWD={se;cr}}et}", &s,
      &error))
      << error;
  EXPECT_EQ(s.server, "10.0.0.5");
  EXPECT_EQ(s.port, "5433");
  EXPECT_EQ(s.database, "pat;terns");
  EXPECT_EQ(s.user, "ann");
  EXPECT_EQ(s.password, "se;cr}et");
  EXPECT_EQ(server_text(s), "the server 10.0.0.5:5433 database pat;terns");
  EXPECT_NE(s.driver_text.find(";UseDeclareFetch=1;Fetch=16;Protocol=7.4-1"), std::string::npos);

  // The user's own fetch settings stay as they are.
  ASSERT_TRUE(parse_connection_string("DSN=shop;UseDeclareFetch=0;Fetch=50;protocol=7.4;", &s, &error));
  EXPECT_EQ(s.driver_text, "DSN=shop;UseDeclareFetch=0;Fetch=50;protocol=7.4");
  EXPECT_EQ(server_text(s), "the data source shop");

  EXPECT_FALSE(parse_connection_string("Servername=a;Database={unclosed", &s, &error));
  EXPECT_FALSE(parse_connection_string("just-a-word", &s, &error));
}

TEST(ConnectionString, MessagesNeverShowThePassword) {
  ConnectionSettings s;
  std::string error;
  ASSERT_TRUE(parse_connection_string("Servername=h;Password=hunter22", &s, &error));
  std::string m = scrub_message(
      "[unixODBC][Driver Manager]bad string DRIVER=x;PWD=hunter22;UID=a\n\tpassword=\"hunter22\" hunter22", s);
  EXPECT_EQ(m.find("hunter22"), std::string::npos) << m;
  EXPECT_EQ(m.find('\n'), std::string::npos);
  EXPECT_EQ(m.find('\t'), std::string::npos);
  EXPECT_EQ(m.find("[unixODBC]"), std::string::npos) << m;
  EXPECT_EQ(m.rfind("bad string", 0), 0u) << m;
}

TEST(StatementText, NumberedParametersBecomeMarkers) {
  std::vector<int> markers;
  int params = 0;
  EXPECT_EQ(odbc_markers("SELECT '?1', \"a?2\", ?2 -- ?9\n FROM t WHERE a = ?1 /* ?7 */ AND b = ?10", &markers,
                         &params),
            "SELECT '?1', \"a?2\", ? -- ?9\n FROM t WHERE a = ? /* ?7 */ AND b = ?");
  EXPECT_EQ(markers, (std::vector<int>{2, 1, 10}));
  EXPECT_EQ(params, 10);
  EXPECT_EQ(split_statements("CREATE TABLE a (x TEXT DEFAULT ';');\n ; SELECT 1; "),
            (std::vector<std::string>{"CREATE TABLE a (x TEXT DEFAULT ';')", "SELECT 1"}));
}

TEST(StatementText, Latin1TextsRoundTripThroughWideCharacters) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::vector<SQLWCHAR> wide;
  latin1_to_wide(all, &wide);
  std::string back;
  wide_to_latin1(wide.data(), all.size(), &back);
  EXPECT_EQ(back, all);
  const SQLWCHAR beyond[] = {'a', 0x20AC, 0xD83D, 0xDE00, 'b'};  // a, euro sign, one emoji, b
  wide_to_latin1(beyond, 5, &back);
  EXPECT_EQ(back, "a??b");
}

}  // namespace
}  // namespace quire::store::odbc
