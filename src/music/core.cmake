# core (Qt Core only) sources of this subsystem
