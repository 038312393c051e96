// Replaced by the platform layer sources.
