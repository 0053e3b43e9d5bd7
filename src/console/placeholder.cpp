namespace vantoro_console_placeholder { int unused = 0; }
