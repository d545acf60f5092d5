# Run by tst_cli inside the real Godot 3 (godot3-server --path <project> -s check.gd): loads our
# level scene and compares every cell's tile id and autotile coordinate with expected.json
# ("x,y": [id, column, row]). Godot exits 0 after printing errors, so the verdict is the exit
# code set here, and "checked" shows the script ran to its end.
extends SceneTree

func _init():
	var failures = []
	var f = File.new()
	f.open("res://expected.json", File.READ)
	var expected = parse_json(f.get_as_text())
	f.close()
	var scene = load("res://tileset_godot3.tscn")
	var map = scene.instance().get_node("Terrain")
	if map.get_used_cells().size() != expected.size():
		failures.append("cells: %d, not %d" % [map.get_used_cells().size(), expected.size()])
	for key in expected.keys():
		var xy = key.split(",")
		var x = int(xy[0])
		var y = int(xy[1])
		var want = expected[key]
		var got = [map.get_cell(x, y), map.get_cell_autotile_coord(x, y).x, map.get_cell_autotile_coord(x, y).y]
		if got[0] != int(want[0]) or got[1] != int(want[1]) or got[2] != int(want[2]):
			failures.append("%s: %s, not %s" % [key, str(got), str(want)])
	print("checked: ", expected.size(), " failures: ", failures)
	OS.exit_code = 0 if failures.empty() else 1
	quit()
