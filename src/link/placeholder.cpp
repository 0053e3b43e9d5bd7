// Placeholder until the subsystem has sources of its own.
namespace vantoro_link_placeholder { int unused = 0; }
