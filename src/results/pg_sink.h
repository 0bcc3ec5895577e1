// The results database as a shipper's sink: connect, check the schema, store batches idempotently.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/database/database.h"
#include "results/sink.h"

namespace results {

// Null with `error` set when the server cannot be reached.
using Connector = std::function<std::unique_ptr<platform::DbConnection>(std::string* error)>;

// A connector to `target` (postgresql:// URL or key/value string) through libpq.
Connector PostgresConnector(std::string target);

// Stores a batch with one statement; the caller's connection, at the schema this station
// knows. false with `error` set, and `sqlState` when the server gave one (42501 when the
// caller's role may not store the records of a station the batch names).
[[nodiscard]] bool InsertRecords(platform::DbConnection& db, const std::vector<Record>& batch,
                                 std::string* error, std::string* sqlState = nullptr);

class PgSink final : public Sink {
 public:
  explicit PgSink(Connector connect) : connect_(std::move(connect)) {}
  bool Open(std::string* error) override;
  Outcome Insert(const std::vector<Record>& batch, std::string* error,
                 std::string* sqlState) override;
  void Cancel() override;

 private:
  Connector connect_;
  std::mutex mutex_;  // guards db_ against Cancel from another thread
  std::unique_ptr<platform::DbConnection> db_;
  bool cancelPending_ = false;  // Cancel came while no connection was there to cut
};

}  // namespace results
