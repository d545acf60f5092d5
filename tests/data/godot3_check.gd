# Run by tst_tilesetwriters inside the real Godot 3 (godot3-server --path <project> -s check.gd):
# loads our Godot 3 tileset, compares what Godot read with expected.json, paints the map given
# there and lets update_bitmask_region() pick each cell's subtile, then asks the physics server
# whether each cell's centre is solid. Writes report.json; the exit code is 0 only when every
# check passed, since Godot itself exits 0 after printing errors.
extends SceneTree

var expected = {}
# Each check adds its name to "done" when it ran to its end: a script error only prints and
# leaves the function, so a check that stopped half-way must not look like one that passed.
var report = {"failures": [], "done": [], "tiles": {}}
var map = null
var frames = 0


func fail(text):
	report["failures"].append(text)


# Dictionaries in a fixed order and numbers as reals: JSON's numbers are all reals, the
# engine's mostly whole.
func canonical(value):
	var parts = []
	match typeof(value):
		TYPE_DICTIONARY:
			var keys = value.keys()
			keys.sort()
			for key in keys:
				parts.append("%s:%s" % [key, canonical(value[key])])
			return "{" + PoolStringArray(parts).join(",") + "}"
		TYPE_ARRAY:
			for item in value:
				parts.append(canonical(item))
			return "[" + PoolStringArray(parts).join(",") + "]"
		TYPE_INT, TYPE_REAL:
			return str(float(value))
	return str(value)


func coord_key(v):
	return "%d,%d" % [int(v.x), int(v.y)]


func check_tiles(tileset):
	var ids = []
	for id in tileset.get_tiles_ids():
		ids.append(int(id))
	report["ids"] = ids
	for key in expected["tiles"]:
		var want = expected["tiles"][key]
		var id = int(key)
		if not id in ids:
			fail("no tile %d" % id)
			continue
		var region = tileset.tile_get_region(id)
		var texture = tileset.tile_get_texture(id)
		var got = {
			"name": tileset.tile_get_name(id),
			"texture": [texture.get_width(), texture.get_height()] if texture else null,
			"mode": tileset.tile_get_tile_mode(id),
			"region": [region.position.x, region.position.y, region.size.x, region.size.y],
		}
		var shapes = {}
		for shape in tileset.tile_get_shapes(id):
			var at = coord_key(shape["autotile_coord"])
			var entry = shapes.get(at, {"count": 0, "one_way": 0})
			entry["count"] += 1
			entry["one_way"] += 1 if shape["one_way"] else 0
			shapes[at] = entry
		got["shapes"] = shapes
		if got["mode"] == TileSet.AUTO_TILE:
			got["bitmask_mode"] = tileset.autotile_get_bitmask_mode(id)
			got["spacing"] = tileset.autotile_get_spacing(id)
			got["size"] = [tileset.autotile_get_size(id).x, tileset.autotile_get_size(id).y]
			got["icon"] = coord_key(tileset.autotile_get_icon_coordinate(id))
			var step = tileset.autotile_get_size(id) + Vector2(got["spacing"], got["spacing"])
			var grid = (region.size + Vector2(got["spacing"], got["spacing"])) / step
			var bitmasks = {}
			for y in range(int(grid.y)):
				for x in range(int(grid.x)):
					var bits = tileset.autotile_get_bitmask(id, Vector2(x, y))
					if bits != 0:
						bitmasks[coord_key(Vector2(x, y))] = bits
			got["bitmasks"] = bitmasks
		report["tiles"][key] = got
		for field in want:
			if canonical(got.get(field)) != canonical(want[field]):
				fail("tile %d %s: %s, expected %s" % [id, field, canonical(got.get(field)), canonical(want[field])])
	report["done"].append("tiles")


func paint(tileset):
	var painted = expected["map"]
	map = TileMap.new()
	map.tile_set = tileset
	map.cell_size = Vector2(expected["tile_size"], expected["tile_size"])
	for cell in painted["cells"]:
		map.set_cell(int(cell[0]), int(cell[1]), 0)
	# Below the map, apart: a lone terrain tile and the one-way tile.
	map.set_cell(0, painted["height"] + 1, 0)
	map.set_cell(2, painted["height"] + 1, tileset.find_tile_by_name(expected["one_way_tile"]))
	map.update_bitmask_region()
	var picked = {}
	for cell in painted["cells"]:
		picked["%d,%d" % [cell[0], cell[1]]] = coord_key(map.get_cell_autotile_coord(int(cell[0]), int(cell[1])))
	report["picked"] = picked
	for key in painted["subtiles"]:
		if picked.get(key) != painted["subtiles"][key]:
			fail("cell %s: subtile %s, expected %s" % [key, picked.get(key), painted["subtiles"][key]])
	root.add_child(map)
	report["done"].append("map")


# After a few physics frames the map's bodies are in the space: a cell's centre is solid exactly
# when the cell is painted (the blob tiles' centres are solid).
func check_physics():
	var space = root.get_world_2d().direct_space_state
	var painted = expected["map"]
	var solid = {}
	for cell in painted["cells"]:
		solid["%d,%d" % [cell[0], cell[1]]] = true
	var wrong = 0
	# A small body moving 8 px down onto the top of each tile below the map, and 8 px up into
	# it from below: the terrain stops both, the one-way tile only the fall.
	var body = KinematicBody2D.new()
	var box = CollisionShape2D.new()
	box.shape = RectangleShape2D.new()
	box.shape.extents = Vector2(1, 1)
	body.add_child(box)
	root.add_child(body)
	var size = expected["tile_size"]
	var stops = []
	for x in [0, 2]:
		var top = Vector2(x + 0.5, painted["height"] + 1) * size
		var bottom = top + Vector2(0, size)
		stops.append(body.test_move(Transform2D(0, top - Vector2(0, 4)), Vector2(0, 8)))
		stops.append(body.test_move(Transform2D(0, bottom + Vector2(0, 4)), Vector2(0, -size)))
	report["stops"] = stops
	if stops != [true, true, true, false]:
		fail("falling onto and rising into a terrain and a one-way tile: %s" % to_json(stops))
	for y in range(painted["height"]):
		for x in range(painted["width"]):
			var centre = (Vector2(x, y) + Vector2(0.5, 0.5)) * expected["tile_size"]
			var hit = not space.intersect_point(centre).empty()
			if hit != solid.has("%d,%d" % [x, y]):
				wrong += 1
	report["physics_wrong"] = wrong
	if wrong > 0:
		fail("%d cell centres collide where they should not or do not where they should" % wrong)
	report["done"].append("physics")


func finish():
	var file = File.new()
	file.open("res://report.json", File.WRITE)
	file.store_string(to_json(report))
	file.close()
	if report["done"] != ["tiles", "map", "physics"]:
		fail("checks that did not run to their end: only %s were done" % to_json(report["done"]))
	OS.exit_code = 0 if report["failures"].empty() else 1
	quit()


func _init():
	OS.exit_code = 1
	var file = File.new()
	file.open("res://expected.json", File.READ)
	expected = parse_json(file.get_as_text())
	file.close()
	var tileset = load(expected["tileset"])
	if tileset == null:
		fail("the tileset did not load")
		finish()
		return
	check_tiles(tileset)
	paint(tileset)


func _idle(_delta):
	frames += 1
	if frames == 5:
		check_physics()
		finish()
	return false
