target_sources(vesk_core PRIVATE
)
