// Measures the server engine's fetch speed: 600,000 rows shaped like marker
// rows (texts, doubles, integers), read column by column as the reader
// reads them. The connection string comes from QUIRE_TEST_ODBC; the table
// goes in an area that is never committed.
//
//   fetch_bench [ROWS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "odbc_engine.h"

int main(int argc, char** argv) {
  using namespace quire::store;
  const char* connection = std::getenv("QUIRE_TEST_ODBC");
  if (!connection) {
    std::fprintf(stderr, "fetch_bench: QUIRE_TEST_ODBC is not set\n");
    return 2;
  }
  long rows = argc > 1 ? std::atol(argv[1]) : 600000;
  std::unique_ptr<Engine> engine;
  quire::Status status = open_odbc_engine(connection, &engine);
  std::unique_ptr<AreaTransaction> txn;
  if (status.ok()) status = engine->begin_area("fetch_bench", &txn);
  if (status.ok())
    status = txn->connection().execute(
        "CREATE TABLE bench AS SELECT n AS id, 'marker' || n AS name, md5(n::text) AS t1, 'order ' || (n % 97) AS t2,"
        " '' AS t3, n * 0.25 AS d1, n / 3.0::float8 AS d2, 1e-3 * n AS d3, n % 1000 AS i1, n % 7 AS i2, 0 AS i3"
        " FROM generate_series(1, " + std::to_string(rows) + ") n; ALTER TABLE bench ADD PRIMARY KEY (id)");
  std::unique_ptr<Statement> s;
  if (status.ok()) status = txn->connection().prepare("SELECT * FROM bench WHERE id >= ?1 ORDER BY id", &s);
  if (!status.ok()) {
    std::fprintf(stderr, "fetch_bench: %s\n", status.message().c_str());
    return 1;
  }
  for (int pass = 0; pass < 3; ++pass) {
    auto start = std::chrono::steady_clock::now();
    s->bind_int64(1, 0);
    long count = 0;
    size_t bytes = 0;
    double sum = 0;
    bool row = false;
    while ((status = s->step(&row)).ok() && row) {
      ++count;
      sum += static_cast<double>(s->column_int64(0));
      for (int c = 1; c <= 4; ++c) {
        size_t size = 0;
        s->column_text(c, &size);
        bytes += size;
      }
      for (int c = 5; c <= 7; ++c) sum += s->column_double(c);
      for (int c = 8; c <= 10; ++c) sum += static_cast<double>(s->column_int64(c));
    }
    s->reset();
    if (!status.ok()) {
      std::fprintf(stderr, "fetch_bench: %s\n", status.message().c_str());
      return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld rows of 11 columns (%zu text bytes, sum %.6g) in %.2f s: %.0f rows/s\n", count, bytes, sum,
                seconds, count / seconds);
  }
  return 0;
}
