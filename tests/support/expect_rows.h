// Table checks of a function of one argument: every row's input through the function against the
// row's expected result. A failure names the row by its index.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>

template <typename In, typename Out>
struct Row {
  In in;
  Out out;
};

template <typename Function, typename In, typename Out, size_t N>
void ExpectRows(const Function& function, const Row<In, Out> (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(function(rows[i].in), rows[i].out);
  }
}
