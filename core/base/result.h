#pragma once
// Result<T, E>: the value of an operation that can fail, or its failure record. Used at module
// boundaries and across queues, where exceptions must not travel.

#include <exception>
#include <new>
#include <string>
#include <utility>
#include <variant>

namespace vesk {

// The plain failure record: one sentence that is logged or shown.
struct Failure {
  std::string description;
  bool operator==(const Failure&) const = default;
};

// The failure that an exception caught at a thread entry stands for.
inline Failure failureOf(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::bad_alloc&) {
    return Failure{"there isn't enough memory"};
  } catch (const std::exception& error) {
    return Failure{std::string("an internal error (") + error.what() + ")"};
  } catch (...) {
    return Failure{"an internal error"};
  }
}

template <class T, class E = Failure>
class [[nodiscard]] Result {
 public:
  Result(T value)
      : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(E failure)
      : state_(std::in_place_index<1>, std::move(failure)) {
  }  // NOLINT(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Precondition: ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  // Precondition: !ok().
  const E& failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// An operation that yields nothing but can fail.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E failure)
      : failure_(std::move(failure)), ok_(false) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const E& failure() const { return failure_; }

 private:
  E failure_{};
  bool ok_ = true;
};

}  // namespace vesk
