# GUI sources of this subsystem
