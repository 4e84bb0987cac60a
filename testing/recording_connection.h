// A connection that records every statement it is sent and answers queries
// from results queued in advance (an empty result when none is queued).
// Its dialect is the reference one unless another is given, so tests can
// compare statement texts byte for byte. Transactions are recorded as the
// statements a database would be sent ("BEGIN TRANSACTION", "SAVEPOINT
// wrenhaven_1", ...).
#ifndef WRENHAVEN_TESTING_RECORDING_CONNECTION_H_
#define WRENHAVEN_TESTING_RECORDING_CONNECTION_H_

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame/nested_transactions.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/dialect.h"

namespace wrenhaven {

class RecordingConnection : public Connection {
 public:
  struct Result {
    std::vector<std::string> names;
    std::vector<std::vector<Variant>> rows;
  };

  void Execute(std::string_view statement) override;
  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override;
  const Dialect& dialect() const override { return dialect_; }
  void Begin() override;
  void Commit() override;
  void Rollback() override;
  int transaction_depth() const override { return nesting_.depth(); }

  void Queue(Result result) { results_.push_back(std::move(result)); }

  // Every statement in the order sent, executed and opened alike.
  std::vector<std::string> sent;
  std::vector<CursorType> cursors;  // one per opened statement
  // When set, Execute and Open raise this database error.
  std::string fail_with;

 private:
  TsqlDialect dialect_;
  std::deque<Result> results_;
  NestedTransactions nesting_;
};

// A connection that passes everything on to a real one and records the
// statements it passed, so that a test checks the exact texts a class sends
// and what the database answers to them, on every database.
class TappedConnection : public Connection {
 public:
  explicit TappedConnection(std::shared_ptr<Connection> target)
      : target_(std::move(target)) {}

  void Execute(std::string_view statement) override;
  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override;
  // Passed on with the values apart; recorded in `sent` with the values
  // written in, as the default of Connection writes them.
  void ExecuteWith(std::string_view statement,
                   std::span<const Variant> values) override;
  std::unique_ptr<Recordset> OpenWith(std::string_view statement,
                                      std::span<const Variant> values,
                                      CursorType cursor) override;
  const Dialect& dialect() const override { return target_->dialect(); }
  void Begin() override { target_->Begin(); }
  void Commit() override { target_->Commit(); }
  void Rollback() override { target_->Rollback(); }
  int transaction_depth() const override {
    return target_->transaction_depth();
  }

  // Every statement in the order sent, executed and opened alike.
  std::vector<std::string> sent;
  // The texts passed on with their values apart, marks and all.
  std::vector<std::string> sent_apart;

 private:
  std::shared_ptr<Connection> target_;
};

// Connections made by another factory, each tapped, and the statements
// sent on all of them together (a page host's, a store's pool).
class TappedConnections {
 public:
  using Factory = std::function<std::shared_ptr<Connection>()>;
  explicit TappedConnections(Factory make) : make_(std::move(make)) {}

  // Makes tapped connections; valid while this object lives.
  Factory Tapped();
  // What was sent since the last call, connection by connection.
  std::vector<std::string> Sent();
  // The same of the texts passed on with their values apart.
  std::vector<std::string> SentApart();

 private:
  std::vector<std::string> Since(std::vector<std::string> TappedConnection::*,
                                 std::vector<size_t>& seen);

  Factory make_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<TappedConnection>> taps_;
  std::vector<size_t> seen_;
  std::vector<size_t> seen_apart_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_TESTING_RECORDING_CONNECTION_H_
