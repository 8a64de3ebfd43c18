#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace krlist {

// Where a problem lies. A text file (JSON, PO, CSV) names a line and, where
// it is known, a column, both counted from 1; a script names the byte offset;
// a problem with a whole file names neither.
struct Location {
  std::string file;  // as messages name it; empty when the problem has no file
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  std::optional<std::uint64_t> offset;
};

// One problem: where and what. Every reader and every step of a command
// returns its problems in this one form, and the programs word them with
// `describe`, so that a message always says where.
struct Problem {
  Location where;
  std::string message;

  // "FILE:LINE:COLUMN: MESSAGE", "FILE:LINE: MESSAGE",
  // "FILE: 0xOFFSET: MESSAGE" (eight hex digits) or "FILE: MESSAGE", with
  // the parts that are not known left out.
  std::string describe() const;

  // A problem with a whole file, or with no file when `file` is empty.
  static Problem about(std::string file, std::string message) {
    Problem problem;
    problem.where.file = std::move(file);
    problem.message = std::move(message);
    return problem;
  }
};

// A value, or the problem that kept it from being made. A function that has
// no value to return returns Expected<void>.
template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}
  Expected(Problem problem) : state_(std::move(problem)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  const Problem& problem() const { return std::get<1>(state_); }
  Problem& problem() { return std::get<1>(state_); }

 private:
  std::variant<T, Problem> state_;
};

template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(Problem problem) : problem_(std::move(problem)) {}

  explicit operator bool() const { return !problem_; }
  const Problem& problem() const { return *problem_; }
  Problem& problem() { return *problem_; }

 private:
  std::optional<Problem> problem_;
};

}  // namespace krlist
