#pragma once

#include <exception>
#include <optional>
#include <string>
#include <type_traits>

#include "core/ComError.h"

namespace kestrava {

// The pending error of a procedure that runs in continue-on-error mode. Entering such a
// procedure clears it; a statement that fails is skipped and its error replaces the pending one;
// statements that succeed leave it alone; the caller reads it after the call.
//
//   Err().clear();                                   // on entry
//   Err().step([&] { set = services->ExecQuery(q); });  // a statement that may fail
//   if (Err().number() == err::kObjectNotSet) ...
class PendingError {
 public:
  int32_t number() const { return error_ ? error_->number() : 0; }
  std::string description() const { return error_ ? error_->description() : std::string(); }
  std::string source() const { return error_ ? error_->source() : std::string(); }
  bool pending() const { return error_.has_value(); }

  void clear() { error_.reset(); }
  void raise(ComError error) { error_ = std::move(error); }

  // Runs one statement. A ComError, or any other exception, becomes the pending error and the
  // statement counts as skipped; returns whether it succeeded. A statement may also report a
  // failure without throwing by returning a std::optional<ComError> (the fast path for cells).
  template <typename Statement>
  bool step(Statement&& statement) noexcept {
    try {
      if constexpr (std::is_same_v<std::invoke_result_t<Statement>, std::optional<ComError>>) {
        if (auto failure = statement()) {
          raise(std::move(*failure));
          return false;
        }
      } else {
        statement();
      }
      return true;
    } catch (const ComError& e) {
      raise(e);
    } catch (const std::exception& e) {
      raise(ComError(err::kInternal, std::string("Internal error: ") + e.what(), "Kestrava"));
    } catch (...) {
      raise(ComError(err::kInternal, "Internal error", "Kestrava"));
    }
    return false;
  }

 private:
  std::optional<ComError> error_;
};

// The one pending error of the user-interface thread.
PendingError& Err();

}  // namespace kestrava
