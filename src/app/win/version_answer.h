#pragma once
// --version for the window programs, which have no console of their own.

namespace corvane::app::win {

// Writes "<program> <version>" to where the program's output was redirected,
// or else to the console of the prompt that started it; without either there
// is nowhere to answer and nothing is written.
void AnswerVersion(const char* program);

}  // namespace corvane::app::win
