# Sources of this subsystem are listed here as it grows.
