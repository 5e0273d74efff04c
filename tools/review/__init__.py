"""morvane-review: a run's laser, gyro and GPS files turned into pictures, a point cloud and a
verdict (tools/morvane-review is the launcher)."""
