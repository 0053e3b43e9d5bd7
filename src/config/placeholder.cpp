// Placeholder until the subsystem has sources of its own.
namespace vantoro_config_placeholder { int unused = 0; }
