// Small helpers shared by the port tests.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace korvane::test {

// The text of the `Error` that `action` raised, "" when it raised nothing,
// and "other: ..." for an exception of another kind.
template <class Error, class Action>
std::string RaisedText(Action&& action) {
  try {
    std::forward<Action>(action)();
  } catch (const Error& error) {
    return error.what();
  } catch (const std::exception& other) {
    return std::string("other: ") + other.what();
  }
  return "";
}

}  // namespace korvane::test
