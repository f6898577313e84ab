#pragma once

namespace glidemate {

// A visitor made of lambdas, one per case of a variant:
//   std::visit(Overload{[](const A&) {...}, [](const B&) {...}}, value);
template <class... F>
struct Overload : F... {
  using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

}  // namespace glidemate
