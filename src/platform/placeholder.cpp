// Placeholder until the subsystem has sources of its own.
namespace vantoro_platform_placeholder { int unused = 0; }
