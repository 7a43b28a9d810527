target_sources(vesk_platform PRIVATE)
