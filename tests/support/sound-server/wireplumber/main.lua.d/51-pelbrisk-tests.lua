-- The tests' private server plays only into its null sink, whatever devices the machine has.
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
