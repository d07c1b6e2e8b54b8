// This copy of the framework: its version and its start-up. Each copy (the one a
// host carries inside, the shared library plug-in modules use) starts once: it
// reads the message dictionary, sets the shared results and registers its
// streamable classes with the toolkit copy it is linked with.
#pragma once

namespace kelvarin {

inline constexpr const char* kFrameworkVersion = "1.0.01.428";
inline constexpr const char* kFrameworkBanner = "Ulmara Kelvarin v1.0.01.428";

// Starts this copy; later calls do nothing.
void InitializeFramework();
bool FrameworkInitialized();

namespace detail {
// Every file that includes a framework header starts the framework before its own
// start-up code runs. The reference also keeps the start-up code of a statically
// linked copy from being left out by the linker.
struct FrameworkStarter {
  FrameworkStarter() { InitializeFramework(); }
};
} // namespace detail

} // namespace kelvarin

// Code that only reads the version (a tool that describes module files) defines
// KELVARIN_NO_FRAMEWORK_STARTER first and needs no framework.
#ifndef KELVARIN_NO_FRAMEWORK_STARTER
namespace {
[[maybe_unused]] const kelvarin::detail::FrameworkStarter kelvarinFrameworkStarter;
} // namespace
#endif
