namespace z960sim_placeholder { int unused = 0; }
