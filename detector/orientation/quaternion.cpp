// Quaternion (not built yet).
