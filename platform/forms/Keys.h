#pragma once

// Virtual key codes the handlers compare with.
namespace vk {
constexpr int Escape = 27;
constexpr int Insert = 45;
}  // namespace vk
