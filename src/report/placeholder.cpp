// Placeholder until the subsystem has sources of its own.
namespace vantoro_report_placeholder { int unused = 0; }
