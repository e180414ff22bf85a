// CSV line parser (not built yet).
