// PgResult: owns one libpq result and clears it.
#pragma once

#include <libpq-fe.h>

#include <utility>

class PgResult {
 public:
  PgResult() = default;
  explicit PgResult(PGresult* result) : result_(result) {}
  ~PgResult() { PQclear(result_); }
  PgResult(PgResult&& other) noexcept : result_(other.Release()) {}
  PgResult& operator=(PgResult&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;

  PGresult* Get() const { return result_; }
  void Reset(PGresult* result = nullptr) { PQclear(std::exchange(result_, result)); }
  [[nodiscard]] PGresult* Release() { return std::exchange(result_, nullptr); }

 private:
  PGresult* result_ = nullptr;
};
