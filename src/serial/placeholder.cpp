// Placeholder until the subsystem has sources of its own.
namespace vantoro_serial_placeholder { int unused = 0; }
